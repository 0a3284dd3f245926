// OrvexCommon2: the common runtime library of the engine.
// Include this one header and link the target OrvexCommon2.
#ifndef ORVEX_ORVEXCOMMON_H
#define ORVEX_ORVEXCOMMON_H

#include "OrvexCommon/base/OrvexBase.h"
#include "OrvexCommon/diag/OrvexDiag.h"
#include "OrvexCommon/file/OrvexFile.h"
#include "OrvexCommon/filesystem/OrvexFilesystem.h"
#include "OrvexCommon/format/OrvexFormat.h"
#include "OrvexCommon/frame/OrvexFrame.h"
#include "OrvexCommon/log/OrvexLog.h"
#include "OrvexCommon/math/OrvexMath.h"
#include "OrvexCommon/memory/OrvexMemory.h"
#include "OrvexCommon/objects/OrvexObjects.h"
#include "OrvexCommon/platform/OrvexPlatform.h"
#include "OrvexCommon/text/OrvexText.h"
#include "OrvexCommon/time/OrvexTime.h"

#endif // ORVEX_ORVEXCOMMON_H
