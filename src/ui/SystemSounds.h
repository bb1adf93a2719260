#pragma once
#include "session/SessionViews.h"

// The desktop's bell for both sounds: the platform offers no other system sounds.
class TSystemSounds : public TSounds {
public:
    void DefaultSound() override;
    void ExclamationSound() override;
};
