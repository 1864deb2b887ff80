// Fax pumps: stand-in start entry until the pumps are built.
#include "layer1/dsp/dsp_context.h"
#include "layer1/dsp/mode_entries.h"

void StartFaxPump(DspContext* ctx) { (void)ctx; }
