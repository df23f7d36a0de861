// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What happens to a bill the validator holds in escrow: the operator answers the escrow prompt,
// or the bill is returned or stacked at once. The Options dialog offers the three in this order.

namespace norvex::control {

enum class EscrowOption { Manual, AutoReturn, AutoStack };

inline constexpr int ESCROW_OPTION_COUNT = 3;

// The option at `index` in the dialog's order; an index outside it gives Manual, the default.
constexpr EscrowOption escrowOptionAt(int index) {
    switch (index) {
    case 1:
        return EscrowOption::AutoReturn;
    case 2:
        return EscrowOption::AutoStack;
    default:
        return EscrowOption::Manual;
    }
}

// The place of `option` in the dialog's order (0 Manual, 1 Automatic Return, 2 Automatic Stacking).
constexpr int escrowOptionIndex(EscrowOption option) {
    switch (option) {
    case EscrowOption::Manual:
        break;
    case EscrowOption::AutoReturn:
        return 1;
    case EscrowOption::AutoStack:
        return 2;
    }
    return 0;
}

} // namespace norvex::control
