#pragma once
// Published chaotic (and two classic non-chaotic) systems whose right-hand
// sides are polynomials of degree at most 3, with their published
// parameters, for the model search's recovery benchmark. Each equation is a
// list of terms: a coefficient and the exponents of x1, x2, x3 (a driving,
// for the two forced oscillators, is the extra term cos(w t)).

#include <array>
#include <string>
#include <vector>

namespace odefit::bench {

struct Term {
  double coefficient;
  std::array<int, 3> powers;  // of x1, x2, x3 (x3 unused for two variables)
};

struct PublishedSystem {
  std::string name;
  int dimension;
  std::vector<std::vector<Term>> equations;
  std::vector<double> start;  // near the attractor
  double drive = 0.0;         // amplitude of cos(omega t) added to the last equation
  double omega = 0.0;
};

inline std::vector<PublishedSystem> PublishedSystems() {
  using T = Term;
  const auto x = [](int a, int b, int c) { return std::array<int, 3>{a, b, c}; };
  std::vector<PublishedSystem> s;
  s.push_back({"Lorenz", 3, {{T{-10, x(1, 0, 0)}, T{10, x(0, 1, 0)}},
                             {T{28, x(1, 0, 0)}, T{-1, x(0, 1, 0)}, T{-1, x(1, 0, 1)}},
                             {T{1, x(1, 1, 0)}, T{-8.0 / 3.0, x(0, 0, 1)}}}, {-8, 7, 27}});
  s.push_back({"Rossler", 3, {{T{-1, x(0, 1, 0)}, T{-1, x(0, 0, 1)}},
                              {T{1, x(1, 0, 0)}, T{0.2, x(0, 1, 0)}},
                              {T{0.2, x(0, 0, 0)}, T{1, x(1, 0, 1)}, T{-5.7, x(0, 0, 1)}}}, {1, 1, 0}});
  s.push_back({"Chen", 3, {{T{-35, x(1, 0, 0)}, T{35, x(0, 1, 0)}},
                           {T{-7, x(1, 0, 0)}, T{-1, x(1, 0, 1)}, T{28, x(0, 1, 0)}},
                           {T{1, x(1, 1, 0)}, T{-3, x(0, 0, 1)}}}, {-10, 0, 37}});
  s.push_back({"Lu", 3, {{T{-36, x(1, 0, 0)}, T{36, x(0, 1, 0)}},
                         {T{-1, x(1, 0, 1)}, T{20, x(0, 1, 0)}},
                         {T{1, x(1, 1, 0)}, T{-3, x(0, 0, 1)}}}, {1, 1, 1}});
  // Sprott's simplest chaotic flows B to S (case A is the Nose-Hoover system below).
  s.push_back({"Sprott B", 3, {{T{1, x(0, 1, 1)}}, {T{1, x(1, 0, 0)}, T{-1, x(0, 1, 0)}},
                               {T{1, x(0, 0, 0)}, T{-1, x(1, 1, 0)}}}, {0.1, 0.1, 0.1}});
  s.push_back({"Sprott C", 3, {{T{1, x(0, 1, 1)}}, {T{1, x(1, 0, 0)}, T{-1, x(0, 1, 0)}},
                               {T{1, x(0, 0, 0)}, T{-1, x(2, 0, 0)}}}, {0.1, 0.1, 0.1}});
  s.push_back({"Sprott D", 3, {{T{-1, x(0, 1, 0)}}, {T{1, x(1, 0, 0)}, T{1, x(0, 0, 1)}},
                               {T{1, x(1, 0, 1)}, T{3, x(0, 2, 0)}}}, {0.1, 0.1, 0.1}});
  s.push_back({"Sprott E", 3, {{T{1, x(0, 1, 1)}}, {T{1, x(2, 0, 0)}, T{-1, x(0, 1, 0)}},
                               {T{1, x(0, 0, 0)}, T{-4, x(1, 0, 0)}}}, {0.1, 0.1, 0.1}});
  s.push_back({"Sprott F", 3, {{T{1, x(0, 1, 0)}, T{1, x(0, 0, 1)}}, {T{-1, x(1, 0, 0)}, T{0.5, x(0, 1, 0)}},
                               {T{1, x(2, 0, 0)}, T{-1, x(0, 0, 1)}}}, {0.1, 0.1, 0.1}});
  s.push_back({"Sprott G", 3, {{T{0.4, x(1, 0, 0)}, T{1, x(0, 0, 1)}}, {T{1, x(1, 0, 1)}, T{-1, x(0, 1, 0)}},
                               {T{-1, x(1, 0, 0)}, T{1, x(0, 1, 0)}}}, {0.1, 0.1, 0.1}});
  s.push_back({"Sprott H", 3, {{T{-1, x(0, 1, 0)}, T{1, x(0, 0, 2)}}, {T{1, x(1, 0, 0)}, T{0.5, x(0, 1, 0)}},
                               {T{1, x(1, 0, 0)}, T{-1, x(0, 0, 1)}}}, {0.1, 0.1, 0.1}});
  s.push_back({"Sprott I", 3, {{T{-0.2, x(0, 1, 0)}}, {T{1, x(1, 0, 0)}, T{1, x(0, 0, 1)}},
                               {T{1, x(1, 0, 0)}, T{1, x(0, 2, 0)}, T{-1, x(0, 0, 1)}}}, {0.1, 0.1, 0.1}});
  s.push_back({"Sprott J", 3, {{T{2, x(0, 0, 1)}}, {T{-2, x(0, 1, 0)}, T{1, x(0, 0, 1)}},
                               {T{-1, x(1, 0, 0)}, T{1, x(0, 1, 0)}, T{1, x(0, 2, 0)}}}, {0.1, 0.1, 0.1}});
  s.push_back({"Sprott K", 3, {{T{1, x(1, 1, 0)}, T{-1, x(0, 0, 1)}}, {T{1, x(1, 0, 0)}, T{-1, x(0, 1, 0)}},
                               {T{1, x(1, 0, 0)}, T{0.3, x(0, 0, 1)}}}, {0.1, 0.1, 0.1}});
  s.push_back({"Sprott L", 3, {{T{1, x(0, 1, 0)}, T{3.9, x(0, 0, 1)}}, {T{0.9, x(2, 0, 0)}, T{-1, x(0, 1, 0)}},
                               {T{1, x(0, 0, 0)}, T{-1, x(1, 0, 0)}}}, {0.1, 0.1, 0.1}});
  s.push_back({"Sprott M", 3, {{T{-1, x(0, 0, 1)}}, {T{-1, x(2, 0, 0)}, T{-1, x(0, 1, 0)}},
                               {T{1.7, x(0, 0, 0)}, T{1.7, x(1, 0, 0)}, T{1, x(0, 1, 0)}}}, {0.1, 0.1, 0.1}});
  s.push_back({"Sprott N", 3, {{T{-2, x(0, 1, 0)}}, {T{1, x(1, 0, 0)}, T{1, x(0, 0, 2)}},
                               {T{1, x(0, 0, 0)}, T{1, x(0, 1, 0)}, T{-2, x(0, 0, 1)}}}, {0.1, 0.1, 0.1}});
  s.push_back({"Sprott O", 3, {{T{1, x(0, 1, 0)}}, {T{1, x(1, 0, 0)}, T{-1, x(0, 0, 1)}},
                               {T{1, x(1, 0, 0)}, T{1, x(1, 0, 1)}, T{2.7, x(0, 1, 0)}}}, {0.1, 0.1, 0.1}});
  s.push_back({"Sprott P", 3, {{T{2.7, x(0, 1, 0)}, T{1, x(0, 0, 1)}}, {T{-1, x(1, 0, 0)}, T{1, x(0, 2, 0)}},
                               {T{1, x(1, 0, 0)}, T{1, x(0, 1, 0)}}}, {0.1, 0.1, 0.1}});
  s.push_back({"Sprott Q", 3, {{T{-1, x(0, 0, 1)}}, {T{1, x(1, 0, 0)}, T{-1, x(0, 1, 0)}},
                               {T{3.1, x(1, 0, 0)}, T{1, x(0, 2, 0)}, T{0.5, x(0, 0, 1)}}}, {0.1, 0.1, 0.1}});
  s.push_back({"Sprott R", 3, {{T{0.9, x(0, 0, 0)}, T{-1, x(0, 1, 0)}}, {T{0.4, x(0, 0, 0)}, T{1, x(0, 0, 1)}},
                               {T{1, x(1, 1, 0)}, T{-1, x(0, 0, 1)}}}, {0.1, 0.1, 0.1}});
  s.push_back({"Sprott S", 3, {{T{-1, x(1, 0, 0)}, T{-4, x(0, 1, 0)}}, {T{1, x(1, 0, 0)}, T{1, x(0, 0, 2)}},
                               {T{1, x(0, 0, 0)}, T{1, x(1, 0, 0)}}}, {0.1, 0.1, 0.1}});
  s.push_back({"Nose-Hoover", 3, {{T{1, x(0, 1, 0)}}, {T{-1, x(1, 0, 0)}, T{1, x(0, 1, 1)}},
                                  {T{1, x(0, 0, 0)}, T{-1, x(0, 2, 0)}}}, {0, 5, 0}});
  s.push_back({"Halvorsen", 3, {{T{-1.89, x(1, 0, 0)}, T{-4, x(0, 1, 0)}, T{-4, x(0, 0, 1)}, T{-1, x(0, 2, 0)}},
                                {T{-1.89, x(0, 1, 0)}, T{-4, x(0, 0, 1)}, T{-4, x(1, 0, 0)}, T{-1, x(0, 0, 2)}},
                                {T{-1.89, x(0, 0, 1)}, T{-4, x(1, 0, 0)}, T{-4, x(0, 1, 0)}, T{-1, x(2, 0, 0)}}},
                 {-1.48, -1.51, 2.04}});
  s.push_back({"Rabinovich-Fabrikant", 3,
               {{T{1, x(0, 1, 1)}, T{-1, x(0, 1, 0)}, T{1, x(2, 1, 0)}, T{0.87, x(1, 0, 0)}},
                {T{3, x(1, 0, 1)}, T{1, x(1, 0, 0)}, T{-1, x(3, 0, 0)}, T{0.87, x(0, 1, 0)}},
                {T{-2.2, x(0, 0, 1)}, T{-2, x(1, 1, 1)}}}, {-1, 0, 0.5}});
  s.push_back({"Genesio-Tesi", 3, {{T{1, x(0, 1, 0)}}, {T{1, x(0, 0, 1)}},
                                   {T{-1, x(1, 0, 0)}, T{-1.1, x(0, 1, 0)}, T{-0.44, x(0, 0, 1)}, T{1, x(2, 0, 0)}}},
                 {0.1, 0.1, 0.1}});
  s.push_back({"Arneodo", 3, {{T{1, x(0, 1, 0)}}, {T{1, x(0, 0, 1)}},
                              {T{5.5, x(1, 0, 0)}, T{-3.5, x(0, 1, 0)}, T{-1, x(0, 0, 1)}, T{-1, x(3, 0, 0)}}},
                 {0.2, 0.2, 0.2}});
  s.push_back({"Rucklidge", 3, {{T{-2, x(1, 0, 0)}, T{6.7, x(0, 1, 0)}, T{-1, x(0, 1, 1)}}, {T{1, x(1, 0, 0)}},
                                {T{-1, x(0, 0, 1)}, T{1, x(0, 2, 0)}}}, {1, 0, 4.5}});
  s.push_back({"Dadras", 3, {{T{1, x(0, 1, 0)}, T{-3, x(1, 0, 0)}, T{2.7, x(0, 1, 1)}},
                             {T{1.7, x(0, 1, 0)}, T{-1, x(1, 0, 1)}, T{1, x(0, 0, 1)}},
                             {T{2, x(1, 1, 0)}, T{-9, x(0, 0, 1)}}}, {1, 1, 0}});
  s.push_back({"Shimizu-Morioka", 3, {{T{1, x(0, 1, 0)}}, {T{1, x(1, 0, 0)}, T{-0.75, x(0, 1, 0)}, T{-1, x(1, 0, 1)}},
                                      {T{-0.45, x(0, 0, 1)}, T{1, x(2, 0, 0)}}}, {0.1, 0, 0}});
  s.push_back({"Burke-Shaw", 3, {{T{-10, x(1, 0, 0)}, T{-10, x(0, 1, 0)}}, {T{-1, x(0, 1, 0)}, T{-10, x(1, 0, 1)}},
                                 {T{10, x(1, 1, 0)}, T{4.272, x(0, 0, 0)}}}, {0.6, 0, 0}});
  s.push_back({"Hadley", 3, {{T{-1, x(0, 2, 0)}, T{-1, x(0, 0, 2)}, T{-0.25, x(1, 0, 0)}, T{2, x(0, 0, 0)}},
                             {T{1, x(1, 1, 0)}, T{-4, x(1, 0, 1)}, T{-1, x(0, 1, 0)}, T{1, x(0, 0, 0)}},
                             {T{4, x(1, 1, 0)}, T{1, x(1, 0, 1)}, T{-1, x(0, 0, 1)}}}, {0, 0, 1.3}});
  s.push_back({"Moore-Spiegel", 3, {{T{1, x(0, 1, 0)}}, {T{1, x(0, 0, 1)}},
                                    {T{-1, x(0, 0, 1)}, T{14, x(0, 1, 0)}, T{-20, x(2, 1, 0)}, T{-6, x(1, 0, 0)}}},
                 {0.1, 0, 0}});
  s.push_back({"Rikitake", 3, {{T{-2, x(1, 0, 0)}, T{1, x(0, 1, 1)}}, {T{-2, x(0, 1, 0)}, T{1, x(1, 0, 1)}, T{-5, x(1, 0, 0)}},
                               {T{1, x(0, 0, 0)}, T{-1, x(1, 1, 0)}}}, {1, 0, 0.6}});
  s.push_back({"Van der Pol", 2, {{T{1, x(0, 1, 0)}}, {T{-1, x(1, 0, 0)}, T{1.5, x(0, 1, 0)}, T{-1.5, x(2, 1, 0)}}},
               {2, 0}});
  s.push_back({"Ueda (forced Duffing)", 2, {{T{1, x(0, 1, 0)}}, {T{-0.05, x(0, 1, 0)}, T{-1, x(3, 0, 0)}}}, {2.5, 0}, 7.5,
               1.0});
  return s;
}

}  // namespace odefit::bench
