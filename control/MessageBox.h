// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The message box as every part of the operator interface asks for it: the buttons offered, the
// icon shown and the button pressed. The window binding draws it; the batch mode and tests answer
// it themselves.

namespace norvex {

enum class MsgButtons { Ok, OkCancel, YesNo };
enum class MsgIcon { None, Information, Warning, Error };
enum class MsgResult { Ok, Cancel, Yes, No };

} // namespace norvex
