// The sign-in page: report the screen size with the form, and when the
// page stops short after a sign-in (the office opened in a window of its
// own), say so instead of showing an empty card.
document.addEventListener('DOMContentLoaded', function () {
  var screenField = document.getElementById('Screen');
  if (screenField) {
    screenField.value = window.screen.width + '*' + window.screen.height;
    return;
  }
  var opened = document.getElementById('opened');
  if (opened) opened.hidden = false;
});
