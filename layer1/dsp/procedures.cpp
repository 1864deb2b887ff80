// Answer and originate procedures: stand-in entries until the procedures are built.
#include "layer1/dsp/dsp_context.h"
#include "layer1/dsp/mode_entries.h"

void StartSingleToneProcedure(DspContext* ctx) { (void)ctx; }
void StartBasicProcedure(DspContext* ctx) { (void)ctx; }
void StartAutomodeProcedure(DspContext* ctx) { (void)ctx; }
void StartV8Procedure(DspContext* ctx) { (void)ctx; }
void Phase2OriginateContinue(DspContext* ctx) { (void)ctx; }
void Phase2AnswerContinue(DspContext* ctx) { (void)ctx; }
