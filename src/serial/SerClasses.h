// Bases of the serial library: the component base and the base of the
// property groups with its update count and change notification.
#pragma once

#include <QObject>
#include <functional>

// Base of the library's components (owner = Qt parent).
class TSerComponent : public QObject {
    Q_OBJECT
public:
    explicit TSerComponent(QObject *AOwner = nullptr) : QObject(AOwner) {}
};

// Base of the property groups. Changes made between BeginUpdate and the
// matching EndUpdate are announced once, by EndUpdate.
class TSerPersistent {
public:
    virtual ~TSerPersistent() = default;

    void BeginUpdate() { ++FUpdateCount; }
    void EndUpdate()
    {
        if (FUpdateCount > 0)
            --FUpdateCount;
        Changed();
    }
    int UpdateCount() const { return FUpdateCount; }

    // Copies every member of a group of the same class, announcing one change.
    // Any other source is refused with the assignment error.
    virtual void Assign(const TSerPersistent *Source);
    // The class name, for the assignment error.
    virtual const char *ClassName() const = 0;

    std::function<void(TSerPersistent *Sender)> OnChange;

protected:
    void Changed()
    {
        if (FUpdateCount == 0 && OnChange)
            OnChange(this);
    }
    // The refusal of an assignment from a source of another class.
    [[noreturn]] void AssignError(const TSerPersistent *Source) const;

private:
    int FUpdateCount = 0;
};
