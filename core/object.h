// The root class. Every class can report the name of its most derived named class and can be
// asked for itself as one of its named bases; class names are compared by identity, like error
// codes, so CastTo never compares strings and needs no RTTI.
#pragma once

#include <type_traits>

#include "core/types.h"

typedef const char* ClassName;

extern const ClassName CLASS_COBJECT;
extern const ClassName CLASS_CFILE;
extern const ClassName CLASS_CFILESERVICE;
extern const ClassName CLASS_CHPFSFILE;
extern const ClassName CLASS_CHPFS;
extern const ClassName CLASS_CLZSSFILE;
extern const ClassName CLASS_CPTRPOOL;
extern const ClassName CLASS_CHANDLEPOOL;
extern const ClassName CLASS_CPACKFS;
extern const ClassName CLASS_CHPFILE;
extern const ClassName CLASS_CFILEHANDLEPOOL;  // defined, but no class reports it
extern const ClassName CLASS_CBFHP;

class CObject {
 public:
  static constexpr const ClassName& kClassName = CLASS_COBJECT;
  typedef CObject NamedClass;  // the nearest class with a name of its own (see CastTo<T>)

  virtual ClassName GetClassName() const;
  virtual void* CastTo(ClassName name);

 protected:
  // No virtual destructor: only CFile and CFileService are deleted through a base pointer, and
  // they declare their own. Protected so that nothing deletes through CObject by mistake.
  ~CObject() = default;
};

// Typed convenience over CastTo: `CastTo<CLzssFile>(file)` is null unless file is one.
// T must have a class name of its own: a class without one answers for its base's name, so a
// cast to it could not tell it from a sibling class and would hand out the wrong type.
template <typename T, typename U>
T* CastTo(U* object) {
  static_assert(std::is_same<typename T::NamedClass, T>::value,
                "CastTo<T> needs a class declared with VORN_DECLARE_CLASS");
  return object ? static_cast<T*>(object->CastTo(T::kClassName)) : nullptr;
}

// Declares the two class-name operations of a class with a name of its own. Base is the direct
// base whose chain answers every other name.
#define VORN_DECLARE_CLASS(Self, Base, Name)                                                 \
 public:                                                                                     \
  static constexpr const ClassName& kClassName = Name;                                       \
  typedef Self NamedClass;                                                                   \
  ClassName GetClassName() const override { return Name; }                                   \
  void* CastTo(ClassName name) override {                                                    \
    return name == Name ? static_cast<void*>(static_cast<Self*>(this)) : Base::CastTo(name); \
  }
