#include <iostream>

#include <odefit/odefit.h>

int main() {
  std::cout << "odefit " << ODEFIT_VERSION_STRING << "\n";
  return 0;
}
