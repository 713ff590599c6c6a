#pragma once
// The document browse procedure, started by the frame on a thread of its own.

void BrowseData();
