// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the window shows for a link fault: the caption and the text for the technician. The link
// reports a fault's kind and detail; the words are chosen here.

#include "link/LinkFault.h"

#include <string>

namespace norvex::control {

// The caption of every message about a port that stopped or a worker that did not start.
inline constexpr const char* COM_ERROR_CAPTION = "COM Error!";

// The text for a fault of a running link or of starting its worker.
std::string linkFaultText(const link::LinkFault& fault);

} // namespace norvex::control
