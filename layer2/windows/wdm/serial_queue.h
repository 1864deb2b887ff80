// Read and write queues, their workers' passes, purge and the wait-on-mask request.
#pragma once

#include "layer2/windows/wdm/device_extension.h"

// One pass of the read (write) worker: serves the oldest queued request and completes it. Returns
// FALSE when the queue was empty (the queue-empty event is then set). The modem core's worker
// threads call these when their work or abort event fires.
BOOLEAN ModemServeNextRead(ModemDeviceExtension* ext);
BOOLEAN ModemServeNextWrite(ModemDeviceExtension* ext);

// One pass of the event-mask waiter: completes the pending wait-on-mask request when an enabled
// event is set, or (abort) with no events.
void ModemServeWaitMask(ModemDeviceExtension* ext, BOOLEAN abort);

// Cancels every queued request of the queue and aborts the one being served.
void ModemPurgeQueue(ModemDeviceExtension* ext, RequestQueue* queue);
// Cancels the queued requests of one file (cleanup).
void ModemCancelFileRequests(ModemDeviceExtension* ext, RequestQueue* queue, PFILE_OBJECT file);
// Completes the pending wait-on-mask request with STATUS_CANCELLED (when file is null or its own).
void ModemCancelPendingWait(ModemDeviceExtension* ext, PFILE_OBJECT file);

// Wait-on-mask requests (I/O controls 17 and 18).
NTSTATUS ModemSetWaitMask(ModemDeviceExtension* ext, PIRP irp, ULONG mask);
NTSTATUS ModemWaitOnMask(ModemDeviceExtension* ext, PIRP irp);
