// Everything a driver includes: the kernel services of this platform under the kernel's own names.
#pragma once

#include "platform/dbg.h"
#include "platform/ex.h"
#include "platform/io.h"
#include "platform/ke.h"
#include "platform/ntdef.h"
#include "platform/ntstatus.h"
#include "platform/reg.h"
#include "platform/rtl.h"
