// ostrel-tool: patches a game executable to load ostrel.dll and checks that
// it works (players; a double-click runs the check), and
// builds, decodes and verifies the system's files and messages (operators).
// Each sub-command registers itself from its own file; a refusal is one
// "ostrel-tool: ..." line on standard error and exit code 1, a command line
// that cannot be parsed exit code 2.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <exception>
#include <string>

#include "commands.h"
#include "common/output.h"
#include "doctor/doctor_command.h"
#include "doctor/doctor_host.h"
#include "operator/operator_commands.h"
#include "ostrel_version.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace {

int run(int argc, char** argv) {
  // Started from Explorer, the console is ours alone and closes when we end.
  if (argc == 1 && doctor::sole_console_process()) return tool::double_click(tool::own_folder(), stdin);
  CLI::App app{"ostrel-tool " OSTREL_VERSION_TEXT
               ": patch a game executable to load ostrel.dll; inspect the system's files and "
               "messages"};
  app.require_subcommand(1);
  app.set_version_flag("--version", OSTREL_VERSION_TEXT);
  int result = 0;
  tool::add_player_commands(app, result);
  tool::add_operator_commands(app, result);
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    std::fprintf(stderr, "ostrel-tool: %s (see --help)\n", e.what());
    return 2;
  }
  return result;
}

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
  _setmode(_fileno(stdin), _O_BINARY);  // "-" reads bytes, not text
#endif
  // The commands turn every failure they know into a refusal or a finding;
  // anything left (memory running out on a 32-bit system) still ends in one
  // line and exit code 1, never in the runtime's abort.
  try {
    return run(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "ostrel-tool: stopped: %s\n", e.what());
    return 1;
  }
}
