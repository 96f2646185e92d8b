// Networks made by the end-to-end tests, written in the input format with every real in 17
// digits, so that the program reads exactly the generated values.
#pragma once

#include <cstdint>
#include <cstdio>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace tessaro::e2e {

// One branch record.
struct Pipe {
  int first_node = 0;
  int second_node = 0;
  double first_value = 0.0;
  double second_value = 0.0;
  double diameter = 0.1;
  double length = 100.0;
  int condition = 0;
};

// The header, the branch records (named P1, P2, ...) and the elevations, by node number - 1.
struct Net {
  double roughness = 4.5e-5;
  double viscosity = 0.001;
  double density = 1000.0;
  double gravity = 9.81;
  double tolerance = 1.0e-9;
  int max_iterations = 100;
  std::vector<Pipe> pipes;
  std::vector<double> elevation;
};

// Deterministic draws: the mapping from the engine's bits is written out here, so the networks
// are the same with every standard library.
struct Draw {
  std::mt19937_64 engine;
  explicit Draw(std::uint64_t seed) : engine(seed) {}
  double real(double lo, double hi) {
    return lo + (hi - lo) * static_cast<double>(engine() >> 11) * 0x1.0p-53;
  }
  int below(int n) { return static_cast<int>(engine() % static_cast<std::uint64_t>(n)); }
  bool chance(double p) { return real(0.0, 1.0) < p; }
  template <typename T>
  void shuffle(std::vector<T>& items) {
    for (int i = static_cast<int>(items.size()) - 1; i > 0; --i) {
      std::swap(items[i], items[below(i + 1)]);
    }
  }
};

inline std::string real_text(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}

inline std::string input_text(const Net& net) {
  std::ostringstream out;
  out << "1 " << real_text(net.roughness) << "\n2 " << real_text(net.viscosity) << "\n3 "
      << real_text(net.density) << "\n4 " << real_text(net.gravity) << "\n5 "
      << real_text(net.tolerance) << "\n6 " << net.max_iterations << "\n7\n";
  for (std::size_t i = 0; i < net.pipes.size(); ++i) {
    const Pipe& p = net.pipes[i];
    out << i + 1 << ' ' << i + 1 << " 'P" << i + 1 << "' " << p.first_node << ' '
        << real_text(p.first_value) << ' ' << p.second_node << ' ' << real_text(p.second_value)
        << ' ' << real_text(p.diameter) << ' ' << real_text(p.length) << ' ' << p.condition << "\n";
  }
  out << "0\n";
  for (std::size_t n = 0; n < net.elevation.size(); ++n) {
    out << n + 1 << ' ' << n + 1 << ' ' << real_text(net.elevation[n]) << "\n";
  }
  out << "0\n";
  return out.str();
}

}  // namespace tessaro::e2e
