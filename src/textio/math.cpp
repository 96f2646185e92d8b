#include "textio/math.h"

#include <fenv.h>
#include <signal.h>
#include <xmmintrin.h>

#include <cmath>
#include <string>

#include "textio/run_end.h"

namespace tessaro {

namespace {

constexpr int trapped_exceptions = FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW;

[[noreturn]] void fail_math(int number, std::string_view message) {
  fail_run('M', number, tag_math, {}, message);
}

[[noreturn]] void fail_function(int number, std::string_view function, std::string_view kind) {
  std::string message(function);
  message += ": ";
  message += kind;
  message += " error";
  fail_math(number, message);
}

// A trap arrives as a signal in the middle of an arithmetic instruction: the run ends here, with
// the report of the exception that trapped.
void on_fp_trap(int, siginfo_t* info, void*) {
  int number = 6101;
  std::string_view word = "invalid";
  switch (info->si_code) {
    case FPE_FLTDIV:
    case FPE_INTDIV:
      number = 6103;
      word = "divide by zero";
      break;
    case FPE_FLTOVF:
      number = 6104;
      word = "overflow";
      break;
    default:
      break;
  }
  RunEnd end;
  end.exit_status = exit_failed;
  end.stderr_text =
      failure_report('M', number, tag_math, {}, std::string("floating-point error: ").append(word));
  end.failure_class = 'M';
  end.failure_number = number;
  terminate_run(end);
}

// Runs a library function with the traps held, so that an exception inside the function is
// reported under the function's own name rather than as a bare trap. All of the program's
// arithmetic, the library's included, is done in the SSE registers, so holding the traps means
// masking them in the SSE control and status register and clearing its flags; the register as it
// was is put back afterwards. Returns the exception flags the function raised.
template <class Function>
double without_traps(Function function, int& raised) {
  const HeldTraps held;
  const double result = function();
  raised = held.raised();
  return result;
}

}  // namespace

HeldTraps::HeldTraps() : saved_(_mm_getcsr()) {
  _mm_setcsr((saved_ | _MM_MASK_MASK) & ~_MM_EXCEPT_MASK);
}

HeldTraps::~HeldTraps() {
  _mm_setcsr(saved_);
}

int HeldTraps::raised() const {
  const unsigned int flags = _mm_getcsr();
  int raised = 0;
  if (flags & _MM_EXCEPT_INVALID) raised |= FE_INVALID;
  if (flags & _MM_EXCEPT_DIV_ZERO) raised |= FE_DIVBYZERO;
  if (flags & _MM_EXCEPT_OVERFLOW) raised |= FE_OVERFLOW;
  return raised;
}

void enable_fp_traps() {
  fesetround(FE_TONEAREST);
  feclearexcept(FE_ALL_EXCEPT);
  struct sigaction action {};
  action.sa_sigaction = on_fp_trap;
  action.sa_flags = SA_SIGINFO;
  sigemptyset(&action.sa_mask);
  sigaction(SIGFPE, &action, nullptr);
  feenableexcept(trapped_exceptions);
}

// The environment saved whole (the x87 unit's and the SSE register's), flags cleared, every
// exception masked.
TrapsOff::TrapsOff() : saved_{} {
  feholdexcept(&saved_);
}

TrapsOff::~TrapsOff() {
  fesetenv(&saved_);
}

void disable_fp_traps() {
  fedisableexcept(trapped_exceptions);
  feclearexcept(FE_ALL_EXCEPT);
}

void fail_sqrt_domain() {
  fail_function(6201, "sqrt", "DOMAIN");
}

double math_log10(double x) {
  if (x == 0.0) fail_function(6202, "log10", "SING");
  if (x < 0.0 || std::isnan(x)) fail_function(6201, "log10", "DOMAIN");
  return std::log10(x);
}

double math_atan(double x) {
  return std::atan(x);
}

double math_pow(double x, double y) {
  // Zero to a negative power is a pole of the function.
  if (x == 0.0 && y < 0.0) fail_function(6202, "**", "SING");
  if (x < 0.0 && std::trunc(y) != y) fail_function(6201, "**", "DOMAIN");
  int raised = 0;
  double result = without_traps([x, y] { return std::pow(x, y); }, raised);
  if (raised & FE_OVERFLOW) fail_function(6203, "**", "OVERFLOW");
  if (raised & (FE_INVALID | FE_DIVBYZERO)) fail_function(6201, "**", "DOMAIN");
  return result;
}

}  // namespace tessaro
