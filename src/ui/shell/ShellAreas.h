#pragma once

#include "api/APIResult.h"

#include <QStringList>
#include <QWidget>

namespace lf {

// Notifications the shell and its areas share.
inline constexpr const char *kCheckButtonNotification = "checkButton"; // none
inline constexpr const char *kUserChangedNotification = "userChanged"; // none
inline constexpr const char *kAdjustFieldOnErrorNotification = "adjustFieldOnError"; // the APIResult

// What the shell offers the recipients area: the area reaches the shell through this alone.
class RecipientsHost {
public:
    virtual ~RecipientsHost() = default;
    virtual bool signedIn() const = 0;
    // Opens the linking window for a site (its name and the title to show).
    virtual void linkSite(const QString &name, const QString &title) = 0;
    // The standard error alert for a failed request, under `header`.
    virtual void showError(const APIResult &result, const QString &header) = 0;
};

// The recipients area of the main window: the recent-recipients table and the address field.
// The window only makes these calls; the real area plugs in through MainController::setRecipientsArea.
class RecipientsArea {
public:
    virtual ~RecipientsArea() = default;
    virtual QWidget *widget() = 0;
    // Recipients without a row become rows (and server contacts) before the share leaves.
    virtual void syncTableToRecipients(bool addContacts) = 0;
    virtual void signOut() = 0;
    virtual void updateSites() = 0;
    virtual void setAddressFieldText(const QString &text) = 0;
};

// The photo drop area of the main window.
class PhotoDropArea {
public:
    virtual ~PhotoDropArea() = default;
    virtual QWidget *widget() = 0;
    virtual void dropFiles(const QStringList &paths) = 0;
    virtual void dropFileURL(const QString &url) = 0;
    virtual void updatePhotos() = 0;
    virtual void updateLabelText() = 0;
    virtual void updateCaptionText() = 0;
};

// Stand-ins that keep the places in the window until the real areas arrive. The recipients one
// edits nothing; the drop one only remembers what it was handed (the intake work is elsewhere).
class PlaceholderRecipientsArea : public QWidget, public RecipientsArea {
public:
    explicit PlaceholderRecipientsArea(QWidget *parent = nullptr);
    QWidget *widget() override { return this; }
    void syncTableToRecipients(bool) override { }
    void signOut() override { m_addressText.clear(); }
    void updateSites() override { }
    void setAddressFieldText(const QString &text) override { m_addressText = text; }
    QString addressFieldText() const { return m_addressText; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_addressText;
};

class PlaceholderPhotoDropArea : public QWidget, public PhotoDropArea {
public:
    explicit PlaceholderPhotoDropArea(QWidget *parent = nullptr);
    QWidget *widget() override { return this; }
    // Takes each file that is a photo into the current share; what is not stays out, logged.
    void dropFiles(const QStringList &paths) override;
    void dropFileURL(const QString &url) override { m_handedIn.append(url); }
    void updatePhotos() override { }
    void updateLabelText() override { }
    void updateCaptionText() override { }
    // Everything handed in, files and addresses, in order.
    QStringList handedIn() const { return m_handedIn; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QStringList m_handedIn;
};

} // namespace lf
