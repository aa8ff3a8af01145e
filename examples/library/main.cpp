// Fits the Lorenz example series with order-2 polynomials through the
// installed library and prints the equations.
//   fit_lorenz [lorenz.txt]

#include <odefit/odefit.h>

#include <exception>
#include <iostream>
#include <string>

int main(int argc, char** argv) {
  const std::string path = argc > 1 ? argv[1] : "lorenz.txt";
  try {
    const odefit::Series series = odefit::ReadClassicSeries(path, 3);
    odefit::FitSettings settings;
    settings.dt = 0.01;
    settings.train = 3000;
    settings.equations = {odefit::EquationSpec{odefit::ModelFamily::StandardPolynomial, 2}};
    const odefit::Model model = odefit::FitModel(series, settings);
    std::cout << "odefit " << ODEFIT_VERSION_STRING << ": " << series.size() << " vectors, order-2 polynomials\n";
    for (int i = 1; i <= model.Dimension(); ++i) std::cout << odefit::EquationText(model, i) << "\n";
    return 0;
  } catch (const std::exception& e) {
    std::cerr << "fit_lorenz: " << e.what() << "\n";
    return 1;
  }
}
