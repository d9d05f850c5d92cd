#include "ui/TargetModel.h"

const TargetModel g_targetModels[TARGET_MODEL_COUNT] = {
    {"TK-6400 series (4 DIOs)", 4},
    {"LR-8800 series (9 DIOs)", 9},
};
