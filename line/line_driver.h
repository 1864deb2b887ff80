// The line's lower driver: the bottom of each modem's device stack, standing in for the card's sample-stream
// driver. Its device finds its LinePort in the memory resource it gets at START (LinePortResource) and answers
// START with the port's LowerDriverInterface in the request's Information field; the block event to set comes
// down in the same field. A device started without a port answers with no interface.
#pragma once

#include "platform/kernel.h"

struct LinePort;

NTSTATUS LineDriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath);

// The port a started line device serves (null when none): for tests and the host.
LinePort* LineDevicePort(PDEVICE_OBJECT device);
