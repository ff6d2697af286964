#pragma once
// The message service's vocabulary: application ids, message ids and the message record.

namespace nsVoMessageDefSNMP {

// Application ids are plain ints; these are the named ones.
constexpr int VO_APP_MAIN = 1000;
constexpr int VO_APP_PLAYER = 1001;
constexpr int VO_APP_AGENT = 1002;
constexpr int VO_APP_DTVSOURCE = 1003;
constexpr int VO_APP_FILETRANSFER = 1004;
constexpr int VO_APP_SERIAL = 1005;
constexpr int VO_APP_UI = 1006;
constexpr int VO_SNMP_APP_PLATFORM = 1007;
constexpr int VO_APP_DEVICEEVNET = 1008;
constexpr int VO_APP_KEYEVENT = 1009;
constexpr int VO_APP_SOURCEMGR = 1010;
constexpr int VO_APP_WSRM = 1011;
// Broadcast target: every registered handler receives the message.
constexpr int ALL_APP = -65555;

// Message ids. The underlying type is fixed so that any 32-bit id (also unnamed ones, and ids
// with the synchronous-delivery bit) is a valid value.
enum eVoMessageID : int {
    VO_MSG_ADD_CONTENT = 1000,
    VO_MSG_DEL_CONTENT = 1001,
    VO_MSG_DEL_ALL_CONTENT = 1002,
    VO_MSG_DEL_ALL_CONTENT_EXCEPT_TICKER = 1003,
    VO_MSG_DEL_ALL_CONTENT_COMPLETE = 1004,

    VO_MSG_FILESERVER_LOGIN = 2000,
    VO_MSG_FILESERVER_LOGOUT = 2001,
    VO_MSG_DOWNLOADFILE = 2002,
    VO_MSG_DOWNLOADFILE_RESULT = 2003,
    VO_MSG_FILETRANSFER_PROGRESS_RATE = 2004,
    VO_MSG_NEW_SCHEDULE = 2005,
    VO_MSG_UNDEPLOY = 2006,
    VO_MSG_NEW_JOB_SCHEDULE = 2007,
    VO_MSG_SET_CONNECTION_STATUS = 2008,
    VO_MSG_NEW_TICKER = 2009,
    VO_MSG_STOP_TICKER = 2010,
    VO_MSG_SET_APPROVAL_STATUS = 2011,
    VO_MSG_SET_SCHEDULE_MODE = 2012,
    VO_MSG_COPY_AUTOPLAY_CONTENTS_TO_INTERNAL = 2013,
    VO_MSG_ERR_NOT_ENOUGH_INTERNAL_MEMORY = 2014,
    VO_MSG_PLAYER_RESTART = 2015,
    VO_MSG_SYSTEM_RESTART = 2016,
    VO_MSG_JOB_SCHEDULE_UNDEPLOYED = 2017,
    VO_MSG_NEW_UPDATE = 2018,
    VO_MSG_UPDATE_RESULT = 2019,
    VO_MSG_SELECT_SCHEDULE_MODE = 2020,
    VO_MSG_SAFETY_REMOVE_USB = 2021,
    VO_MSG_DELETE_AUTOPLAY_CONTENTS = 2022,
    VO_MSG_CREATE_LOCAL_SCHEDULE = 2023,
    VO_MSG_NEW_LOCAL_SCHEDULE = 2024,
    VO_MSG_LOCAL_SCHEDULE_UNDEPLOY = 2025,
    VO_MSG_INTERNAL_AUTOPLAY = 2026,
    VO_MSG_REMOVABLE_DISK_AUTOPLAY = 2027,
    // 2028 has no name.
    VO_MSG_STOP_CONTENTS = 2029,
    VO_MSG_READY_FOR_REBOOT = 2030,
    VO_MSG_SET_AUTO_RUN = 2031,
    VO_MSG_START_SCHEDULE = 2032,
    VO_MSG_STOP_SCHEDULE = 2033,
    // 2034 and 2035 have no name.
    VO_MSG_SIZE = 2036,
    VO_MSG_SET_CURRENT_CONTENT_ID = 2037,
    VO_MSG_UI_SHOW = 2038,
    VO_MSG_UI_HIDE = 2039,
    // 2040 has no name.
    VO_MSG_UI_START_SCHEDULE = 2041,
    VO_MSG_UI_STOP_SCHEDULE = 2042,
    VO_MSG_UI_SET_RUN_SCHEDULE = 2043,
    // 2044 and 2045 have no name.
    VO_MSG_DEVICE_CONNECT = 2046,
    VO_MSG_DEVICE_DISCONNECT = 2047,
    VO_MSG_KEY_EVENT = 2048,
    VO_MSG_SWUPDATE = 2049,
    VO_MSG_DELETE_CONTENTS = 2050,
    VO_MSG_DELETE_CONTENTS_RESULT = 2051,
    VO_MSG_REMOVE_USB = 2052,
    VO_MSG_REMOVE_USB_RESULT = 2053,
    VO_MSG_RUN_APP = 2054,
    VO_MSG_STOP_APP = 2055,
};

// Marks an id that GetMessage delivers synchronously; no named id carries it.
constexpr unsigned int VO_MSG_SYNC_MASK = 0x08000000u;

struct _stVoMessage {
    eVoMessageID eMessageID;
    long lParam;  // meaning belongs to the message id
    void* pData;  // payload bytes, or null
    unsigned int nDataSize;
    int nSrcApp;
    int nDstApp;  // target application, or ALL_APP
};

}  // namespace nsVoMessageDefSNMP
