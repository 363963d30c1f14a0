#include "base/Logging.h"

Q_LOGGING_CATEGORY(lcSession, "orvanta.session")
Q_LOGGING_CATEGORY(lcChild, "orvanta.child")
Q_LOGGING_CATEGORY(lcStore, "orvanta.store")
Q_LOGGING_CATEGORY(lcUi, "orvanta.ui")
Q_LOGGING_CATEGORY(lcApp, "orvanta.app")
