// The modal results every dialog of the program returns.
#pragma once

namespace kyvo {

enum ModalResult : int { mrNone = 0, mrOk = 1, mrCancel = 2, mrYes = 6, mrNo = 7 };

// Button sets of the program's own message box.
enum MessageStyle : int { msOk = 0, msOkCancel = 1, msYesNoCancel = 3, msYesNo = 4 };

}  // namespace kyvo
