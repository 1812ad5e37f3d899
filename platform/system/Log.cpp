#include "platform/system/Log.h"

Q_LOGGING_CATEGORY(lcApp, "vendrel.app")
Q_LOGGING_CATEGORY(lcSettings, "vendrel.settings")
Q_LOGGING_CATEGORY(lcX11, "vendrel.x11")
Q_LOGGING_CATEGORY(lcPortal, "vendrel.portal")
Q_LOGGING_CATEGORY(lcAccess, "vendrel.access", QtInfoMsg)
