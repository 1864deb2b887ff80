// What the manager's files share.
#pragma once

#include "layer2/corecode/ec/ec_manager.h"

constexpr uint32_t EC_MNP_VALUES = 28;
constexpr uint8_t EC_MNP_SETUP_FAILED = 5;
constexpr uint16_t EC_DETECTION_TIMEOUT = 300;
constexpr uint8_t EC_DETECTION_STOP = 255;

void ec_mnp_values(const EcManager* m, uint32_t v[EC_MNP_VALUES]);
void ec_start_lapm(EcManager* m, uint8_t request);
void ec_start_mnp(EcManager* m, uint8_t request);
void ec_start_buffered(EcManager* m);
void ec_detection_start(EcManager* m, uint8_t mode);
