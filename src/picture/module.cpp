// The picture module's entry points (see run/extensions.h).
#include "picture/picture.h"
#include "picture/run_picture.h"
#include "run/extensions.h"

extern "C" const tessaro::PictureModule* tessaro_picture_module() {
  static const tessaro::PictureModule module{
      .write_picture = tessaro::write_picture,
      .stop_marks = tessaro::stop_marks,
      .run_outcome = tessaro::run_outcome,
  };
  return &module;
}
