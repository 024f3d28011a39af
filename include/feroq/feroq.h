// The whole public interface of feroq.
//
// A tool constructs one FarmObject and reaches everything else through it;
// see the README for a walk-through.
#ifndef FEROQ_FEROQ_H_
#define FEROQ_FEROQ_H_

#include "feroq/app_data.h"
#include "feroq/app_enums.h"
#include "feroq/app_export.h"
#include "feroq/app_folder_object.h"
#include "feroq/app_import.h"
#include "feroq/app_words.h"
#include "feroq/common_object.h"
#include "feroq/farm_object.h"
#include "feroq/text.h"
#include "feroq/types.h"
#include "feroq/zqwinapp_object.h"

#endif  // FEROQ_FEROQ_H_
