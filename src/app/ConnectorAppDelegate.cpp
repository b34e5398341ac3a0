#include "app/ConnectorAppDelegate.h"

#include "app/ConnectorWindowController.h"
#include "core/ConnectorModel.h"
#include "platform/PowerEvents.h"

#include <QTimer>

namespace korvo {

ConnectorAppDelegate::ConnectorAppDelegate(ConnectorModel& model,
                                           ConnectorWindowController& windowController,
                                           QObject* parent)
    : QObject(parent), model_(&model), windowController_(&windowController) {}

ConnectorAppDelegate::~ConnectorAppDelegate() {
    applicationWillTerminate();
}

void ConnectorAppDelegate::applicationDidFinishLaunching(PowerEvents* powerEvents) {
    if (powerEvents) {
        // The model hears of sleep and wake on the next turn of the event loop, after the
        // announcement's own handling is done.
        observers_.push_back(connect(powerEvents, &PowerEvents::willSleep, this, [this] {
            QTimer::singleShot(0, this, [this] {
                if (model_) {
                    model_->handleSleep();
                }
            });
        }));
        observers_.push_back(connect(powerEvents, &PowerEvents::didWake, this, [this] {
            QTimer::singleShot(0, this, [this] {
                if (model_) {
                    model_->handleWake();
                }
            });
        }));
    }
    QTimer::singleShot(0, this, [this] {
        if (model_ && windowController_) {
            windowController_->show();
        }
    });
}

bool ConnectorAppDelegate::applicationShouldHandleReopen() {
    if (model_ && windowController_) {
        windowController_->show();
    }
    return true;
}

void ConnectorAppDelegate::applicationWillTerminate() {
    for (const QMetaObject::Connection& observer : observers_) {
        disconnect(observer);
    }
    observers_.clear();
}

} // namespace korvo
