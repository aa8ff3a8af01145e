// odefit show: prints the equations of a model file, or its JSON.

#include <CLI/CLI.hpp>
#include <iostream>

#include "app/cli/commands.h"
#include "app/cli/exit_status.h"
#include "app/cli/inputs.h"
#include "odefit/model_file.h"
#include "odefit/model_text.h"

namespace odefit::cli {

void ShowCommand::Register(CLI::App& parent) {
  app_ = parent.add_subcommand("show", "Print the equations of a model file.");
  app_->add_option("MODEL", model_, "the model file written by odefit fit --output")->required();
  app_->add_flag("--json", json_, "print the model file's content (checked, in odefit's layout) instead");
}

bool ShowCommand::Given() const { return app_->parsed(); }

void ShowCommand::Prepare(InputFiles& files) { modelData_ = ReadModelInput(files, model_); }

int ShowCommand::Run() {
  std::cout << (json_ ? ModelToJson(modelData_) : FormatModel(modelData_));
  return kSuccess;
}

}  // namespace odefit::cli
