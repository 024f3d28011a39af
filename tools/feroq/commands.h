// Registration of the tool's commands, one function per noun. Each command
// runs after the whole command line has been parsed, with the session of the
// farm that --farm names.
#ifndef FEROQ_TOOLS_FEROQ_COMMANDS_H_
#define FEROQ_TOOLS_FEROQ_COMMANDS_H_

#include <functional>

#include <CLI/CLI.hpp>

#include "farm_session.h"

namespace feroq::cli {

struct CommandLine {
  GlobalOptions options;
  std::function<void(Session&)> action;  // the chosen command
};

// Makes `action` the command to run when `command` is chosen.
inline void OnRun(CLI::App* command, CommandLine& line, std::function<void(Session&)> action) {
  command->callback([&line, action = std::move(action)] { line.action = action; });
}

void AddFarmCommands(CLI::App& app, CommandLine& line);      // farm, codes
void AddServerCommands(CLI::App& app, CommandLine& line);    // server
void AddAccountCommands(CLI::App& app, CommandLine& line);   // account
void AddFolderCommands(CLI::App& app, CommandLine& line);    // folder
void AddAppCommands(CLI::App& app, CommandLine& line);       // app (but publish, set, export)
void AddPublishCommands(CLI::App& app_noun, CommandLine& line);  // app publish, app set
void AddExportImportCommands(CLI::App& app, CLI::App& app_noun, CommandLine& line);  // app export, export-all, import
void AddWatchCommand(CLI::App& app, CommandLine& line);      // watch

}  // namespace feroq::cli

#endif  // FEROQ_TOOLS_FEROQ_COMMANDS_H_
