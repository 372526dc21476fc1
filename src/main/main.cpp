// Program entry: the structured log, then a developer mode or the
// application (see sarn/main/program.h). An error ends the process with
// "Error: {debug}" on standard error and status 1.
#include <cstdio>
#include <string>
#include <vector>

#include "sarn/main/program.h"
#include "vorn_log/log.h"

int main(int argc, char** argv) {
    vorn_log::install_default_subscriber();
    const std::vector<std::string> args(argv, argv + argc);
    auto result = sarn::entry::run_program(args);
    if (!result) {
        std::fputs(sarn::entry::error_line(result.error()).c_str(), stderr);
        return 1;
    }
    return 0;
}
