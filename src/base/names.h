#pragma once

#include <QString>

namespace velmar {

// A name that becomes a path component (device, output, macro, program names): not empty, not
// "." or "..", none of \ / : * ? " < > |, no control characters. A name that fails is logged by
// the caller and skipped, so it never escapes its directory.
bool isValidName(const QString& name);

}  // namespace velmar
