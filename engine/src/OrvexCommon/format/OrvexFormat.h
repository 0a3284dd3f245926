// Data formats: configuration files and table files.
#ifndef ORVEX_FORMAT_ORVEXFORMAT_H
#define ORVEX_FORMAT_ORVEXFORMAT_H

#include "OrvexCommon/format/OrvexIniFile.h"
#include "OrvexCommon/format/OrvexTabFile.h"

#endif // ORVEX_FORMAT_ORVEXFORMAT_H
