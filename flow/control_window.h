// The control window phase of the launch procedure.
#pragma once

#include "runtime/base.h"

constexpr ObjectNumber GADGET_RUN = 4;
constexpr ObjectNumber GADGET_REPEAT = 8;
constexpr ObjectNumber GADGET_EXIT = 16;

// Shows window 2 ("Norvane") with its three buttons and waits for the user.
// Run: releases everything and returns. Repeat: sets RepeatFlag to 1 first.
// Exit button or close request: runs a short block and takes the end path
// without releasing anything (the end routines do that).
void ControlWindowPhase();
