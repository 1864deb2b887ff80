// The return to data after "O1" or "O3": the line is ready once the data pump is connected again and
// connection control has seen the retrain or renegotiation end.
#include "layer2/corecode/cmd/call_control.h"
#include "layer2/corecode/cmd/conn_control.h"

bool conn_line_ready(AcuContext* acu)
{
    return acu->conn.state == CONN_CONNECTED && acu_pump_state(acu) == PUMP_CONNECTED;
}
