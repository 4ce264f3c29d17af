#include "app/ScanMode.h"

namespace quarn {

int ScanMode = kScanModeDirmass;

}  // namespace quarn
