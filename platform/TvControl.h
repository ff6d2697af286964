#pragma once
// Host framework: the TV control service, which knows the display's own RIX ID.

class ITvInterface {
public:
    virtual ~ITvInterface() = default;
    // Writes the display's RIX ID to *id. Returns non-zero on success, 0 when unavailable.
    virtual int GetDisplayID(unsigned char* id) = 0;
};

class TvControl {
public:
    static ITvInterface* GetTv();
};
