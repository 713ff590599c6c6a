#include "app/BrowseData.h"

#include "platform/runtime/windows/Dialogs.h"

// The list of stored documents is not part of this version yet: say so rather than open an
// empty window.
void BrowseData() {
  rt::Message("Browsing the stored documents is not available in this version yet.", "Browse Data",
              rt::MessageIcon::Information);
}
