// Writes the example series of odefit into a folder (the current one by
// default): lorenz.txt, driven.txt and predator-prey.txt, one number per line
// printed with "%.10f" (always with a decimal point, so the program reads the
// value as written), the components of each state vector on consecutive lines;
// and lorenz.csv, a table with a header of names and one vector per line, as
// the subcommands read it.
//
// The numbers depend on IEEE double arithmetic alone: fixed parameters, fixed
// initial states, classical Runge-Kutta with fixed inner steps, and a driving
// term read from a table built by rotation instead of from the math library.
// Every machine therefore regenerates the same files digit for digit.
#include <array>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace odefit {
namespace {

template <std::size_t D>
using State = std::array<double, D>;

// Inner Runge-Kutta steps per sampling interval of every series.
constexpr int kInnerSteps = 10;

// Returns y + a * v.
template <std::size_t D>
State<D> AddScaled(const State<D>& y, double a, const State<D>& v) {
  State<D> r{};
  for (std::size_t i = 0; i < D; ++i) r[i] = y[i] + a * v[i];
  return r;
}

// Advances y by one classical Runge-Kutta step of size h. Time is counted in
// half steps: the step starts at count k, so every stage falls on a whole
// count (k, k + 1, k + 2) and a driving term can be read from a table.
// f(k, y) returns dy/dt.
template <std::size_t D, typename Rhs>
State<D> RungeKuttaStep(const Rhs& f, long k, const State<D>& y, double h) {
  const State<D> k1 = f(k, y);
  const State<D> k2 = f(k + 1, AddScaled(y, 0.5 * h, k1));
  const State<D> k3 = f(k + 1, AddScaled(y, 0.5 * h, k2));
  const State<D> k4 = f(k + 2, AddScaled(y, h, k3));
  State<D> r{};
  for (std::size_t i = 0; i < D; ++i) r[i] = y[i] + h / 6.0 * (k1[i] + 2.0 * k2[i] + 2.0 * k3[i] + k4[i]);
  return r;
}

using File = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

// Integrates from y over `skip` + `count` sampling intervals of dt and writes
// the `count` states that follow the first `skip` intervals to `path`: one
// value per line, or with a `header` line of names one vector per line,
// separated by commas. Returns false when the file cannot be written.
template <std::size_t D, typename Rhs>
bool WriteSeries(const std::filesystem::path& path, const Rhs& f, State<D> y, double dt, int skip, int count,
                 const char* header = nullptr) {
  File file(std::fopen(path.c_str(), "w"), &std::fclose);
  if (!file) return false;
  if (header != nullptr && std::fprintf(file.get(), "%s\n", header) < 0) return false;
  const double h = dt / kInnerSteps;
  long halfSteps = 0;
  for (int n = 0; n < skip + count; ++n) {
    if (n > 0) {
      for (int s = 0; s < kInnerSteps; ++s, halfSteps += 2) y = RungeKuttaStep(f, halfSteps, y, h);
    }
    if (n < skip) continue;
    for (std::size_t i = 0; i < D; ++i) {
      const char* end = header == nullptr || i + 1 == D ? "\n" : ",";
      if (std::fprintf(file.get(), "%.10f%s", y[i], end) < 0) return false;
    }
  }
  return std::fflush(file.get()) == 0;
}

// Lorenz flow, sigma 10, rho 28, beta 8/3.
State<3> LorenzRhs(long, const State<3>& x) {
  constexpr double sigma = 10.0, rho = 28.0, beta = 8.0 / 3.0;
  return State<3>{sigma * (x[1] - x[0]), x[0] * (rho - x[2]) - x[1], x[0] * x[1] - beta * x[2]};
}

// The Lorenz flow at dt = 0.01: 4000 vectors after a transient of 10 time
// units.
bool WriteLorenz(const std::filesystem::path& path) {
  return WriteSeries(path, LorenzRhs, State<3>{1.0, 1.0, 1.0}, 0.01, 1000, 4000);
}

// The Lorenz flow at dt = 0.002 as a table with the names x, y, z: 1000
// vectors after a transient of 10 time units (the search example).
bool WriteLorenzTable(const std::filesystem::path& path) {
  return WriteSeries(path, LorenzRhs, State<3>{1.0, 1.0, 1.0}, 0.002, 5000, 1000, "x,y,z");
}

// Driven double-well oscillator x'' + c x' - x + x^3 = A cos(2 pi t / T) as
// dx1/dt = x2, dx2/dt = x1 - x1^3 - c x2 + A cos(2 pi t / T), with c = 0.25,
// A = 0.4, dt = 0.05 and T = 100 dt: 5000 vectors after 20 periods, so the
// first sample of the file lies at driving phase 0.
bool WriteDriven(const std::filesystem::path& path) {
  constexpr int period = 100;  // driving period in sampling intervals
  constexpr int tableSize = 2 * kInnerSteps * period;
  static_assert(tableSize == 2000, "the rotation below is by 2 pi / 2000");
  // cos and sin of 2 pi / 2000, correctly rounded.
  constexpr double cosStep = 0.99999506520185816611, sinStep = 0.0031415874858795633519;
  std::vector<double> cosine(tableSize);
  double c = 1.0, s = 0.0;
  for (int j = 0; j < tableSize; ++j) {
    cosine[static_cast<std::size_t>(j)] = c;
    const double next = c * cosStep - s * sinStep;
    s = s * cosStep + c * sinStep;
    c = next;
  }
  const auto f = [&cosine](long k, const State<2>& x) {
    constexpr double damping = 0.25, amplitude = 0.4;
    const double drive = cosine[static_cast<std::size_t>(k % tableSize)];
    return State<2>{x[1], x[0] - x[0] * x[0] * x[0] - damping * x[1] + amplitude * drive};
  };
  return WriteSeries(path, f, State<2>{0.1, 0.0}, 0.05, 20 * period, 5000);
}

// Lotka-Volterra predator-prey system dx1/dt = x1 (a - b x2),
// dx2/dt = x1 (d x2) - c x2 with a = 1, b = 0.5, c = 0.75, d = 0.25 (the
// equilibrium is x1 = 3, x2 = 2), dt = 0.05: 3000 vectors from (1, 1).
bool WritePredatorPrey(const std::filesystem::path& path) {
  const auto f = [](long, const State<2>& x) {
    constexpr double a = 1.0, b = 0.5, c = 0.75, d = 0.25;
    return State<2>{x[0] * (a - b * x[1]), x[0] * (d * x[1]) - c * x[1]};
  };
  return WriteSeries(path, f, State<2>{1.0, 1.0}, 0.05, 0, 3000);
}

}  // namespace
}  // namespace odefit

int main(int argc, char** argv) {
  if (argc > 2) {
    std::fprintf(stderr, "Usage: odefit_generate_examples [folder]\n");
    return 2;
  }
  const std::filesystem::path folder = argc == 2 ? argv[1] : ".";
  struct Example {
    const char* name;
    bool (*write)(const std::filesystem::path&);
  };
  const Example examples[] = {{"lorenz.txt", odefit::WriteLorenz},
                              {"lorenz.csv", odefit::WriteLorenzTable},
                              {"driven.txt", odefit::WriteDriven},
                              {"predator-prey.txt", odefit::WritePredatorPrey}};
  for (const Example& example : examples) {
    const std::filesystem::path path = folder / example.name;
    if (!example.write(path)) {
      std::fprintf(stderr, "odefit_generate_examples: cannot write %s\n", path.c_str());
      return 1;
    }
  }
  return 0;
}
