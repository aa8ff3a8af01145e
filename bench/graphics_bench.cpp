// Drawing costs: a whole differentiation window and single pixels.

#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "derivatives/differentiation_plot.h"
#include "graphics/graphics_layer.h"
#include "graphics/palette.h"

namespace {

// The largest differentiation window: four variables, 600 points per plot,
// 4 800 pixels, with the window's preparation, frames and labels.
void BM_DifferentiationWindow(benchmark::State& state) {
  const int D = 4, Nfit = 1000;
  std::vector<double> values, derivatives;
  for (int k = 0; k < Nfit; ++k) {
    for (int i = 1; i <= D; ++i) {
      values.push_back(i * std::sin(0.01 * k * i));
      derivatives.push_back(0.01 * i * i * std::cos(0.01 * k * i));
    }
  }
  odefit::GraphicsLayer layer;
  for (auto _ : state) {
    odefit::DrawDifferentiationPlots(layer, values, derivatives, D, Nfit, 0.01);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * 4800);
}
BENCHMARK(BM_DifferentiationWindow)->Unit(benchmark::kMillisecond);

// A million single pixels: each must cost a small constant (the window's
// lock, one byte, the change mark), never a repaint.
void BM_SetPixel(benchmark::State& state) {
  odefit::GraphicsLayer layer;
  layer.OpenGraphicsWindow(odefit::EfficiencyWindow, odefit::kEfficiencyTitle);
  layer.SetActiveWindow(odefit::EfficiencyWindow);
  layer.SetDrawColour(odefit::kBrightRed);
  for (auto _ : state) {
    int sum = 0;
    for (int k = 0; k < 1000000; ++k) sum += layer.SetPixel(k % 800, (k / 800) % 600);
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * 1000000);
}
BENCHMARK(BM_SetPixel)->Unit(benchmark::kMillisecond);

}  // namespace

// `fit --plots` on 100 vectors against `fit` alone (the pictures' share;
// a process's start and the files' writing come on top): the fit, then
// the fit with its two PNG pictures.
#include "../tests/support/generated_systems.h"
#include "odefit/fit.h"
#include "odefit/plots.h"

namespace {

void BM_FitOf100Vectors(benchmark::State& state) {
  const odefit::Series series = odefit::testing::Lorenz(0.01, 100, 0.0);
  odefit::FitSettings settings;
  settings.dt = 0.01;
  const bool plots = state.range(0) != 0;
  for (auto _ : state) {
    odefit::Derivatives training;
    const odefit::Model model = odefit::FitModel(series, settings, &training);
    if (plots) {
      benchmark::DoNotOptimize(odefit::DifferentiationPlot(series, model, training).data());
      benchmark::DoNotOptimize(odefit::FitPlot(series, model, training).data());
    }
    benchmark::DoNotOptimize(model.equations.data());
  }
}
BENCHMARK(BM_FitOf100Vectors)->ArgName("plots")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
