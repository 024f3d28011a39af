// Conversion between the application record (ZQApp) and its stored form
// (feroq::store::AppRecordData).
#ifndef FEROQ_SERVICES_APP_RECORD_CODEC_H_
#define FEROQ_SERVICES_APP_RECORD_CODEC_H_

#include "feroq/services/zqapp.h"
#include "services/store/farm_store.h"

namespace feroq::services {

// Every stored property of `record`, read through its getters and its
// tables. The record's open user or server iteration is not disturbed.
// ZQApp has no getter for its video type: `data->video_type` is left as the
// caller set it. Returns 0 or a table's failure code; raises std::bad_alloc.
VSTATUS RecordToData(ZQApp& record, store::AppRecordData* data);

// Fills `record` with the stored application `id` lying in `folder`: makes it
// a blank record (assignment from a default-constructed ZQApp, which also
// closes its iterations and clears its read-only mark), initialises it to the
// stored version, sets every property that differs from the blank value
// through its setter, fills its user and server tables and finally sets the
// stored read-only mark. The record calls are neither recorded nor faulted.
// Returns 0 or the first refusal of a setter or table; raises std::bad_alloc.
VSTATUS DataToRecord(const store::AppRecordData& data, ULONG64 id, ULONG64 folder, ZQApp& record);

}  // namespace feroq::services

#endif  // FEROQ_SERVICES_APP_RECORD_CODEC_H_
