// The store's own view of an application record: what a farm's store keeps
// beside the record's public calls (its identifier, its read-only byte as
// stored, its two tables) and the user table's storage size. The stand-in
// services read and write records through it; the record's public interface
// has no call for these.
#ifndef FEROQ_SERVICES_RECORD_ACCESS_H_
#define FEROQ_SERVICES_RECORD_ACCESS_H_

#include "feroq/services/containers.h"
#include "feroq/services/zqapp.h"

namespace feroq::services {

class RecordAccess {
 public:
  // The identifier the record was read or written under (0: none yet).
  static ULONG64 StoredId(const ZQApp& record) { return record.id_; }
  static void SetStoredId(ZQApp& record, ULONG64 id) { record.id_ = id; }
  // The read-only byte exactly as stored (only the value 1 makes the record
  // refuse changes).
  static void SetStoredReadOnly(ZQApp& record, BYTE value) { record.read_only_ = value; }
  // The record's string properties, for decoding a stored text straight
  // into the record once it is known to pass the setters' rules.
  static VORNString& BrowserName(ZQApp& record) { return record.browser_name_; }
  static VORNString& FriendlyName(ZQApp& record) { return record.friendly_name_; }
  static VORNString& InitialProgram(ZQApp& record) { return record.initial_program_; }
  static VORNString& WorkDirectory(ZQApp& record) { return record.work_directory_; }
  static VORNString& Description(ZQApp& record) { return record.description_; }
  static VORNString& FolderText(ZQApp& record) { return record.folder_; }
  static USERTABLE& Users(ZQApp& record) { return record.users_; }
  static SERVERTABLE& Servers(ZQApp& record) { return record.servers_; }
  // How many names the user table has room for without growing.
  static ULONG NameCapacity(const USERTABLE& table) { return table.names_.Count(); }
};

}  // namespace feroq::services

#endif  // FEROQ_SERVICES_RECORD_ACCESS_H_
