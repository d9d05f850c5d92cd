// The device models the rows can be built for, offered in the "Target model" menu.
#pragma once

struct TargetModel {
    const char* pszName; // the menu item's text
    int nDioCount;       // number of DIO rows
};

constexpr int TARGET_MODEL_COUNT = 2;
// Entry k has menu command 2001 + k; entry 0 is the model at start-up.
extern const TargetModel g_targetModels[TARGET_MODEL_COUNT];
