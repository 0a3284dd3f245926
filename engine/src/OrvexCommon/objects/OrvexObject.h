// Object life-cycle callbacks: an empty base whose construction and
// destruction a host can observe through two process-wide callbacks.
#ifndef ORVEX_OBJECTS_ORVEXOBJECT_H
#define ORVEX_OBJECTS_ORVEXOBJECT_H

#include "OrvexCommon/base/OrvexExport.h"

namespace Orvex {

class COrvexObject;

// Receives the address of the object being constructed or destroyed (its
// COrvexObject part).
typedef void (*ObjectCallBack)(COrvexObject* object);

// The two callbacks, null at load. Each constructor and destructor reads them
// when it runs. Meant to be set once at start-up.
ORVEX_API void SetObjectCreateCallBack(ObjectCallBack callback);
ORVEX_API ObjectCallBack GetObjectCreateCallBack();
ORVEX_API void SetObjectDestoryCallBack(ObjectCallBack callback);
ORVEX_API ObjectCallBack GetObjectDestoryCallBack();

// No data, no virtual functions. Copy construction is the implicit one (no
// creation callback); assignment calls neither callback.
class ORVEX_API COrvexObject {
public:
    COrvexObject();
    COrvexObject(const COrvexObject&) = default;
    ~COrvexObject();
    COrvexObject& operator=(const COrvexObject&) { return *this; }
};

} // namespace Orvex

#endif // ORVEX_OBJECTS_ORVEXOBJECT_H
