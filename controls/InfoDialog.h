#pragma once
// The About box: program name and version, the maker, and two links (mail
// and web site). Laid out from its fixed template in dialog units.
//
// GUI thread only; run modally: `CInfoDialog dlg(parent); dlg.exec();`

#include <QDialog>

class QLabel;
class QPushButton;

namespace quarn {

class CHyperLink;

class CInfoDialog : public QDialog {
    Q_OBJECT

  public:
    static constexpr const char* kWebAddress = "https://quarn.example.org";
    static constexpr const char* kMailAddress = "mailto:quarn@example.org";

    explicit CInfoDialog(QWidget* parent = nullptr);
    ~CInfoDialog() override;

    // Children of the dialog; the dialog owns them.
    CHyperLink* WebLink() const { return m_linkWeb; }
    CHyperLink* MailLink() const { return m_linkMail; }

  private:
    CHyperLink* m_linkWeb = nullptr;
    CHyperLink* m_linkMail = nullptr;
};

}  // namespace quarn
