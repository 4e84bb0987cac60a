// The main window: mark the left-menu entry whose page the content area
// shows.
document.addEventListener('DOMContentLoaded', function () {
  var links = document.querySelectorAll('.leftmenu a[target=content]');
  links.forEach(function (link) {
    link.addEventListener('click', function () {
      links.forEach(function (other) { other.classList.remove('current'); });
      link.classList.add('current');
    });
  });
});
