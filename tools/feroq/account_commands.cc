// feroq account list|add: the farm's account directory, through the
// services' admin interface.
#include <memory>

#include <fmt/core.h>

#include "app_words.h"
#include "commands.h"
#include "output.h"
#include "text_conversion.h"

namespace feroq::cli {

namespace {

std::vector<admin::AccountInfo> ListAccounts(Session& session) {
  std::vector<admin::AccountInfo> accounts;
  VSTATUS status = session.admin().ListAccounts(&accounts);
  if (status != VORN_OK) throw OperationFailed("listing the accounts", status);
  return accounts;
}

void List(Session& session) {
  nlohmann::json json = nlohmann::json::array();
  std::vector<std::vector<std::string>> rows;
  for (const auto& account : ListAccounts(session)) {
    const std::string name = ToUtf8(account.domain) + "\\" + ToUtf8(account.account);
    const std::string kind = AccountKindWord(static_cast<LONG>(account.kind));
    json.push_back({{"authority", ToUtf8(account.authority_type)},
                    {"domain", ToUtf8(account.domain)},
                    {"account", ToUtf8(account.account)},
                    {"kind", kind},
                    {"dn", ToUtf8(account.dn)}});
    rows.push_back({name, kind, ToUtf8(account.authority_type), ToUtf8(account.dn)});
  }
  if (session.json()) {
    PrintJson(json);
  } else {
    PrintTable({"ACCOUNT", "KIND", "AUTHORITY", "DN"}, rows);
  }
}

struct AddOptions {
  std::string name;  // DOMAIN\ACCOUNT
  std::string kind = "user";
  std::string dn;
  std::string authority = "NT";
  bool if_missing = false;
};

void Add(Session& session, const AddOptions& options) {
  const std::size_t slash = options.name.find('\\');
  if (slash == std::string::npos || slash == 0 || slash + 1 == options.name.size()) {
    throw UsageError("an account is written DOMAIN\\ACCOUNT: " + options.name);
  }
  std::optional<LONG> kind = ParseAccountKind(options.kind);
  if (!kind) throw UsageError("an account kind is user, group or other: " + options.kind);
  admin::AccountInfo account;
  std::optional<std::u16string> domain = FromUtf8(options.name.substr(0, slash));
  std::optional<std::u16string> name = FromUtf8(options.name.substr(slash + 1));
  const std::string dn_text = options.dn.empty()
                                  ? fmt::format("CN={},DC={}", options.name.substr(slash + 1),
                                                AsciiLower(options.name.substr(0, slash)))
                                  : options.dn;
  std::optional<std::u16string> dn = FromUtf8(dn_text);
  std::optional<std::u16string> authority = FromUtf8(options.authority);
  if (!domain || !name || !dn || !authority) throw UsageError("account names must be UTF-8 text");
  account.authority_type = *authority;
  account.domain = *domain;
  account.account = *name;
  account.kind = static_cast<ULONG>(*kind);
  account.dn = *dn;
  if (options.if_missing) {
    for (const auto& existing : ListAccounts(session)) {
      if (EqualsIgnoringCase(ToUtf8(existing.domain), options.name.substr(0, slash)) &&
          EqualsIgnoringCase(ToUtf8(existing.account), options.name.substr(slash + 1)) &&
          EqualsIgnoringCase(ToUtf8(existing.authority_type), options.authority)) {
        PrintLine(fmt::format("account {} is already in the directory", options.name));
        return;
      }
    }
  }
  VSTATUS status = session.admin().AddAccount(account);
  if (status != VORN_OK) {
    throw OperationFailed("adding the account " + options.name, status,
                          status == VORN_E_REFUSED ? "the directory has that account or that DN" : "");
  }
  PrintLine(fmt::format("added account {} ({})", options.name, dn_text));
}

}  // namespace

void AddAccountCommands(CLI::App& app, CommandLine& line) {
  CLI::App* account = app.add_subcommand("account", "The farm's account directory");
  account->require_subcommand(1);

  OnRun(account->add_subcommand("list", "List the accounts"), line, List);

  auto options = std::make_shared<AddOptions>();
  auto* add = account->add_subcommand("add", "Add an account to the directory");
  add->add_option("ACCOUNT", options->name, "DOMAIN\\ACCOUNT")->required();
  add->add_option("--kind", options->kind, "user, group or other")->capture_default_str();
  add->add_option("--dn", options->dn, "Directory name (default CN=ACCOUNT,DC=domain)");
  add->add_option("--authority", options->authority, "Account authority type")->capture_default_str();
  add->add_flag("--if-missing", options->if_missing, "Do nothing when the directory has the account");
  OnRun(add, line, [options](Session& session) { Add(session, *options); });
}

}  // namespace feroq::cli
