#pragma once
// The program after start-up: one developer mode when the command line names
// one, else the application in its window until it ends.
//
// Main thread.

#include <expected>
#include <span>
#include <string>

#include "sarn/main/error.h"
#include "sarn/main/options.h"

namespace sarn::entry {

// Runs the developer mode with the program's services (dev_services.h). A
// probe that finds nothing ends the process here with its status (2, or 3
// for the engine probe) once its output is flushed.
std::expected<void, MainError> run_developer_mode(const DeveloperMode& mode);

// The developer mode the arguments name, or the application.
std::expected<void, MainError> run_program(std::span<const std::string> args);

}  // namespace sarn::entry
