// The _ZQWinAppData record that FarmObject::CreateZQWinApp publishes,
// built from an ApplicationDefinition.
#ifndef FEROQ_TOOLS_FEROQ_PUBLISH_DESCRIPTION_H_
#define FEROQ_TOOLS_FEROQ_PUBLISH_DESCRIPTION_H_

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "definition_reader.h"
#include "feroq/app_data.h"

namespace feroq::cli {

// Owns the record, its server and user blocks and every string they point
// to; the record stays valid for the life of this object, which must not be
// moved while the record is in use (it is neither copyable nor movable).
//
// Properties the definition does not give: strings are left null (not
// given), the enumerations and numbers are 0, no flag is set, and the icon is
// the store's default. The record version is the definition's, or
// `default_version` when it has none.
class PublishDescription {
 public:
  PublishDescription(const ApplicationDefinition& definition, ULONG default_version);
  PublishDescription(const PublishDescription&) = delete;
  PublishDescription& operator=(const PublishDescription&) = delete;

  _ZQWinAppData* data() { return data_.get(); }

 private:
  WCHAR* Keep(const std::u16string& text);

  std::unique_ptr<_ZQWinAppData> data_;
  std::deque<std::u16string> strings_;
  std::vector<std::unique_ptr<_ZQServerConfigBlock>> server_blocks_;
  std::vector<std::unique_ptr<_UserAccountInfoBlock>> user_blocks_;
};

}  // namespace feroq::cli

#endif  // FEROQ_TOOLS_FEROQ_PUBLISH_DESCRIPTION_H_
