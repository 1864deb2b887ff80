// A command side without a device: the interpreter record over a bare DTE side, with its settings kept in
// memory only (no registry). Optionally with the built-in country list and the default country selected.
#pragma once

#include <memory>

#include "core_fixture.h"
#include "layer2/corecode/cmd/at_context.h"
#include "layer2/corecode/cmd/core_settings.h"
#include "layer2/corecode/cmd/country.h"
#include "layer2/corecode/dte/dte.h"
#include "layer2/corecode/dte/dte_context.h"

namespace attest {

struct AcuSide {
    coretest::CoreMachine machine{""};
    std::unique_ptr<DteContext> dte = std::make_unique<DteContext>();
    std::unique_ptr<CoreSettings> settings = std::make_unique<CoreSettings>();
    std::unique_ptr<AcuContext> acu = std::make_unique<AcuContext>();
    explicit AcuSide(bool with_country = false)
    {
        dte_init(dte.get(), nullptr);
        settings_init(settings.get(), nullptr, nullptr, FALSE);
        if (with_country) {
            country_list_load(settings.get());
            country_select(settings.get());
        }
        AcuInit(acu.get(), dte.get(), settings.get(), nullptr);
    }
};

}  // namespace attest
