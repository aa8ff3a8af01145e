#pragma once
// Series of known systems for tests and benchmarks of the model search:
// fourth-order Runge-Kutta with ten steps per sampling interval after a
// transient, then Gaussian noise of a fraction of each component's standard
// deviation (a fixed seed, so every run sees the same series).

#include <array>
#include <cmath>
#include <functional>
#include <random>
#include <vector>

#include "odefit/series.h"

namespace odefit::testing {

using Rhs = std::function<void(double t, const std::vector<double>& x, std::vector<double>& dx)>;

inline Series Generate(const Rhs& f, std::vector<double> x, double dt, int n, double noise, int transient = 1000,
                       unsigned seed = 12345) {
  const std::size_t D = x.size();
  std::vector<double> k1(D), k2(D), k3(D), k4(D), z(D);
  const double h = dt / 10.0;
  double t = -transient * dt;
  auto step = [&] {
    f(t, x, k1);
    for (std::size_t i = 0; i < D; ++i) z[i] = x[i] + 0.5 * h * k1[i];
    f(t + 0.5 * h, z, k2);
    for (std::size_t i = 0; i < D; ++i) z[i] = x[i] + 0.5 * h * k2[i];
    f(t + 0.5 * h, z, k3);
    for (std::size_t i = 0; i < D; ++i) z[i] = x[i] + h * k3[i];
    f(t + h, z, k4);
    for (std::size_t i = 0; i < D; ++i) x[i] += h / 6.0 * (k1[i] + 2.0 * k2[i] + 2.0 * k3[i] + k4[i]);
    t += h;
  };
  for (int k = 0; k < transient * 10; ++k) step();
  t = 0.0;
  Series series;
  series.dimension = static_cast<int>(D);
  for (int s = 0; s < n; ++s) {
    series.values.insert(series.values.end(), x.begin(), x.end());
    for (int k = 0; k < 10; ++k) step();
    t = (s + 1) * dt;
  }
  if (noise > 0.0) {
    std::mt19937_64 random(seed);
    std::normal_distribution<double> normal;
    for (std::size_t i = 0; i < D; ++i) {
      double mean = 0.0, var = 0.0;
      for (int s = 0; s < n; ++s) mean += series.values[s * D + i] / n;
      for (int s = 0; s < n; ++s) var += (series.values[s * D + i] - mean) * (series.values[s * D + i] - mean) / n;
      const double sigma = noise * std::sqrt(var);
      for (int s = 0; s < n; ++s) series.values[s * D + i] += sigma * normal(random);
    }
  }
  return series;
}

// dx/dt = 10 (y - x), dy/dt = x (28 - z) - y, dz/dt = x y - 8/3 z.
inline Series Lorenz(double dt, int n, double noise = 0.0) {
  return Generate([](double, const std::vector<double>& x, std::vector<double>& dx) {
    dx[0] = 10.0 * (x[1] - x[0]);
    dx[1] = x[0] * (28.0 - x[2]) - x[1];
    dx[2] = x[0] * x[1] - 8.0 / 3.0 * x[2];
  }, {-8.0, 7.0, 27.0}, dt, n, noise);
}

// dx1/dt = x2, dx2/dt = 1.5 (1 - x1^2) x2 - x1.
inline Series VanDerPol(double dt, int n, double noise = 0.0) {
  return Generate([](double, const std::vector<double>& x, std::vector<double>& dx) {
    dx[0] = x[1];
    dx[1] = 1.5 * (1.0 - x[0] * x[0]) * x[1] - x[0];
  }, {2.0, 0.0}, dt, n, noise);
}

// A double well driven at period 5: dx1/dt = x2,
// dx2/dt = -0.25 x2 + x1 - x1^3 + 0.4 cos(2 pi t / 5).
inline Series DrivenDoubleWell(double dt, int n, double noise = 0.0) {
  return Generate([](double t, const std::vector<double>& x, std::vector<double>& dx) {
    dx[0] = x[1];
    dx[1] = -0.25 * x[1] + x[0] - x[0] * x[0] * x[0] + 0.4 * std::cos(2.0 * M_PI * t / 5.0);
  }, {1.0, 0.0}, dt, n, noise, 0);
}

// Predator and prey with a saturating response:
// dx1/dt = x1 (1 - x1/3) - x1 x2 / (1 + x1), dx2/dt = x1 x2 / (1 + x1) - 0.4 x2.
inline Series SaturatingPredation(double dt, int n, double noise = 0.0) {
  return Generate([](double, const std::vector<double>& x, std::vector<double>& dx) {
    const double response = x[0] * x[1] / (1.0 + x[0]);
    dx[0] = x[0] * (1.0 - x[0] / 3.0) - response;
    dx[1] = response - 0.4 * x[1];
  }, {1.0, 1.0}, dt, n, noise);
}

}  // namespace odefit::testing
