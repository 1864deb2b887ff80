// The trellis family's rows of the variant table: the generic loops serve gen and mm.
#include "layer1/vek/core/vek_dispatch.h"
#include "layer1/vek/trellis/trellis.h"

void vek_register_trellis(VekRowWriter& rows) {
  rows.set_all<VekSlot::vek_trellis_metric_2d>(vek_trellis_metric_2d_gen);
  rows.set<VekSlot::vek_trellis_acs>(vek_trellis_acs_gen, vek_trellis_acs_gen, vek_trellis_acs_ss, vek_trellis_acs_wd);
  rows.set<VekSlot::vek_trellis_metric_4d>(vek_trellis_metric_4d_gen, vek_trellis_metric_4d_gen,
                                           vek_trellis_metric_4d_ss, vek_trellis_metric_4d_wd);
}
