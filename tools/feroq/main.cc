// feroq: the command-line tool that manages a farm through the feroq library.
//
//   feroq [--farm URL] [--json] NOUN VERB ...
//
// Exit codes: 0 success, 1 the operation failed (the library's result code is
// printed by name, value and meaning), 2 the command line is wrong.
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include <CLI/CLI.hpp>

#include "commands.h"
#include "feroq/services/farm_admin.h"
#include "output.h"

namespace {

// Longest error line shown; the rest is counted.
constexpr std::size_t kLongestErrorLine = 2000;

int Fail(int code, const std::string& what) {
  std::fprintf(stderr, "feroq: %s\n", feroq::cli::Shortened(what, kLongestErrorLine).c_str());
  return code;
}

// A failed operation, then each cause the farm's services recorded for it
// (a cause that only repeats the failure's own code is left out).
int OperationFailedWithCauses(const feroq::cli::OperationFailed& e) {
  Fail(feroq::cli::kExitFailed, e.what());
  feroq::admin::ServiceFailure failure;
  if (!feroq::admin::LastServiceFailure(&failure)) return feroq::cli::kExitFailed;
  for (const feroq::admin::FailureCause& cause : failure.causes) {
    if (cause.code == e.code() && cause.field.empty()) continue;
    const std::string field = cause.field.empty() ? "" : " [" + cause.field + "]";
    Fail(feroq::cli::kExitFailed, "cause" + field + ": " + feroq::cli::DescribeResult(cause.code));
  }
  return feroq::cli::kExitFailed;
}

// Each command word of the tool and the function that sets up its group
// (one function sets up "farm" and "codes", another "app", "export-all" and
// "import").
struct CommandGroup {
  const char* word;
  void (*add)(CLI::App& app, feroq::cli::CommandLine& line);
};
constexpr CommandGroup kCommandGroups[] = {
    {"farm", feroq::cli::AddFarmCommands},     {"codes", feroq::cli::AddFarmCommands},
    {"server", feroq::cli::AddServerCommands}, {"account", feroq::cli::AddAccountCommands},
    {"folder", feroq::cli::AddFolderCommands}, {"app", feroq::cli::AddAppCommands},
    {"export-all", feroq::cli::AddAppCommands}, {"import", feroq::cli::AddAppCommands},
    {"watch", feroq::cli::AddWatchCommand},
};

// The group of the command word on the command line: the first word that is
// not one of the tool's own options (--farm takes the word after it, unless
// written --farm=URL). Null when there is no such word, it names no command,
// or "--" comes first: then every group is set up, so that help and the
// parser's complaints are those of the whole tool. Setting up one group
// instead of all of them is most of the parser's cost in a run of one command.
const CommandGroup* ChosenGroup(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (std::strcmp(arg, "--") == 0) return nullptr;
    if (std::strcmp(arg, "--farm") == 0) {
      ++i;
      continue;
    }
    if (arg[0] == '-') continue;
    for (const CommandGroup& group : kCommandGroups) {
      if (std::strcmp(arg, group.word) == 0) return &group;
    }
    return nullptr;
  }
  return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace feroq::cli;
  CLI::App app{
      "feroq: manage a farm of application servers and the Windows applications it publishes.\n"
      "Objects are named by distinguished name, such as \\Applications\\Office\\Editor."};
  app.name("feroq");
  app.fallthrough();
  app.require_subcommand(1);
  CommandLine line;
  app.add_option("--farm", line.options.farm_url,
                 "Farm to work on: sqlite:PATH (a farm file) or memory:NAME (this run only); "
                 "default: FEROQ_FARM, else the default farm file");
  app.add_flag("--json", line.options.json, "Print listings and details as JSON");

  if (const CommandGroup* chosen = ChosenGroup(argc, argv)) {
    chosen->add(app, line);
  } else {
    AddFarmCommands(app, line);
    AddServerCommands(app, line);
    AddAccountCommands(app, line);
    AddFolderCommands(app, line);
    AddAppCommands(app, line);
    AddWatchCommand(app, line);
  }

  try {
    app.parse(argc, argv);
  } catch (const CLI::Success& e) {
    return app.exit(e);  // --help
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return kExitUsage;
  }
  if (!line.action) return Fail(kExitUsage, "no command given (see --help)");

  try {
    Session session(line.options);
    feroq::admin::ClearLastServiceFailure();
    line.action(session);
    return kExitSuccess;
  } catch (const UsageError& e) {
    return Fail(kExitUsage, e.what());
  } catch (const OperationFailed& e) {
    return OperationFailedWithCauses(e);
  } catch (const ToolFailure& e) {
    return Fail(kExitFailed, e.what());
  } catch (const std::exception& e) {
    return Fail(kExitFailed, e.what());
  }
}
