// VectorAuto is a Vector that owns its elements: every element it removes,
// replaces or clears is deleted, and its destructor clears it. Growing it with
// setSize appends new empty Strings rather than nulls.
#ifndef VANTOREL_LANG_VECTORAUTO_H
#define VANTOREL_LANG_VECTORAUTO_H

#include "lang/Vector.h"

class VectorAuto : public Vector {
 public:
  VectorAuto() = default;
  VectorAuto(const VectorAuto&) = delete;
  VectorAuto& operator=(const VectorAuto&) = delete;
  ~VectorAuto() override;

  void clear() override;
  // Deletes the element and closes the gap; the result is not to be used.
  Object* remove(uint32_t index) override;
  // Deletes the old element after storing the new one.
  // REQUIRES: `element` is not the object already at `index`.
  void set(uint32_t index, Object* element) override;
  using Vector::set;
  void setSize(uint32_t size) override;
};

#endif  // VANTOREL_LANG_VECTORAUTO_H
