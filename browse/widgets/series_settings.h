// SPDX-License-Identifier: GPL-2.0-or-later
// Settings that follow a series or a book, in the viewer: the named set
// attached to a book or to its series (the folder above it) is applied when
// the book opens (batch/attached_settings.h gives the cascade the batch uses
// too), the status bar names it, and the parameter bar's "用于…" menu
// attaches the settings shown to the book shown or to its series.
//
// Threads: user-interface thread only.
#pragma once

#include <QString>
#include <filesystem>

#include "core/para_block.h"
#include "sources/library_state.h"

class QObject;
class QWidget;

namespace inkbrite {

// The book a view (CInkbriteView) shows; empty for loose pages or no view.
std::filesystem::path BookShownIn(QObject* view);

// The set in force for `book` loaded over `block`. `note` gets what the
// status bar says: "设置：NAME（此系列）", why the attached set cannot be
// used, or why the library's state cannot be read; empty when nothing is
// attached. True when `block` took a set.
bool LoadSettingInForce(const std::filesystem::path& book, CParaBlock& block, QString& note);

// Copies `from`'s name and values into `to` taking one block's lock at a
// time, for a copy that is later assigned back: Assign both ways would take
// the two locks in both orders.
void CopyBlockValues(const CParaBlock& from, CParaBlock& to);

// Saves `block` under a name asked for with the settings dialog, then
// attaches that name to `target` (a book, or a series folder). False when
// the user cancelled or the state could not be written (said in a message).
bool AttachShownSettings(QWidget* parent, CParaBlock& block, const std::filesystem::path& target,
                         AttachScope scope);

// Removes the attachment of `target`; false (said in a message) when the
// state could not be written.
bool DetachSettings(QWidget* parent, const std::filesystem::path& target);

}  // namespace inkbrite
