#pragma once

#include <QLoggingCategory>

// One category per subsystem, so a user can turn any of them up with QT_LOGGING_RULES.
Q_DECLARE_LOGGING_CATEGORY(lcSession) ///< orvanta.session: starts, stops, exits, health
Q_DECLARE_LOGGING_CATEGORY(lcChild) ///< orvanta.child: every raw line a child prints (debug)
Q_DECLARE_LOGGING_CATEGORY(lcStore) ///< orvanta.store: loading and saving the list
Q_DECLARE_LOGGING_CATEGORY(lcUi) ///< orvanta.ui
Q_DECLARE_LOGGING_CATEGORY(lcApp) ///< orvanta.app: start-up, single instance, quit
