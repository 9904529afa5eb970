// The handlers of the main form's buttons.
//
// Each runs on the user-interface thread inside the event loop and returns
// to it: every problem is told in a modal message box, the form's texts are
// never changed by validation, and nothing is kept afterwards (every string
// taken is released on every path).
#pragma once

// "Generate patch": reads and checks the nine texts and the two files, asks
// for the patch file, writes it and tells the outcome.
void CollectPatchRequest();

// The "Open" buttons: fill the old or new file field from an open dialog;
// a cancelled dialog leaves the field as it was.
void ChooseOldFile();
void ChooseNewFile();
