#pragma once

namespace qb {

// Whether the application starts when the user logs in; the platform keeps the setting.
class LoginItemRegistering {
  public:
    virtual ~LoginItemRegistering() = default;
    virtual bool isRegistered() const = 0;
    // Throws FileError (its text is shown to the user) when the change cannot be made.
    virtual void setRegistered(bool registered) = 0;
};

} // namespace qb
