#include "common/pen.h"

uint16_t gx1 = 0;
uint16_t gy1 = 0;
uint16_t CharacterAttributes = 0;
