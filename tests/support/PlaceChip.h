#pragma once

#include "app/prog2.h"
#include "chips/ChipCatalogue.h"

#include <QComboBox>

// A chip chosen as the user picks it from the list, with the placement's four
// ticks run at once.
inline int PlaceChip(TProjFm &fm, const char *name)
{
    const int index = FindChip(name);
    fm.ChipSelect->setCurrentIndex(index);
    fm.ChipSelectChange(index);
    for (int step = 0; step < 4; ++step)
        fm.Timer1Timer();
    return index;
}
