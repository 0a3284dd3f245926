// Objects: the object life-cycle callbacks, the value types, the variant and
// the virtual slot index.
#ifndef ORVEX_OBJECTS_ORVEXOBJECTS_H
#define ORVEX_OBJECTS_ORVEXOBJECTS_H

#include "OrvexCommon/objects/OrvexObject.h"
#include "OrvexCommon/objects/OrvexValueTypes.h"
#include "OrvexCommon/objects/OrvexVarient.h"
#include "OrvexCommon/objects/OrvexVirtualSlot.h"

#endif // ORVEX_OBJECTS_ORVEXOBJECTS_H
