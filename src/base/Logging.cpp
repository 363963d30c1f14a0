#include "base/Logging.h"

// Quiet below info unless asked: the program's log file turns the children's raw output on.

Q_LOGGING_CATEGORY(lcSession, "orvanta.session", QtInfoMsg)
Q_LOGGING_CATEGORY(lcChild, "orvanta.child", QtInfoMsg)
Q_LOGGING_CATEGORY(lcStore, "orvanta.store", QtInfoMsg)
Q_LOGGING_CATEGORY(lcUi, "orvanta.ui", QtInfoMsg)
Q_LOGGING_CATEGORY(lcApp, "orvanta.app", QtInfoMsg)
