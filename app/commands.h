// The handlers of the main form's buttons and of its window menu item.
//
// Each runs on the user-interface thread inside the event loop and returns
// to it: every problem is told in a modal message box, the form's texts are
// never changed by validation, and nothing is kept afterwards (every string
// taken is released on every path) but the choice of compact patches.
#pragma once

// "Generate patch": reads and checks the nine texts and the two files, asks
// for the patch file, writes it and tells the outcome. The patch is made on
// a thread of its own while this thread goes on taking the window's events
// with the form busy; compact when "Compact patches" is checked.
void CollectPatchRequest();

// "Compact patches" in the window menu: the user's choice, kept from one
// run to the next and shown as the item's check mark. Off at the first
// start. LoadCompactChoice runs once, after BuildMainForm.
void LoadCompactChoice();
void ToggleCompactPatches();

// The "Open" buttons: fill the old or new file field from an open dialog;
// a cancelled dialog leaves the field as it was.
void ChooseOldFile();
void ChooseNewFile();
