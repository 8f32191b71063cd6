#include "records/PlatformError.h"

namespace spinforge {

PlatformError::PlatformError(Kind kind, const QString& failed, const QString& why)
    : kind_(kind), text_((why.isEmpty() ? failed : failed + QStringLiteral(": ") + why).toUtf8()) {}

}  // namespace spinforge
