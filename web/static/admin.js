// The administration pages: rows of a menu tree deeper than the levels
// admin.css indents are indented here the same way, 24px a level (the
// tree's cells start 8px in, its check boxes at the edge).
document.addEventListener('DOMContentLoaded', function () {
  var styled = 8;
  document.querySelectorAll('.tree [data-level]').forEach(function (row) {
    var level = parseInt(row.getAttribute('data-level'), 10);
    if (!(level > styled)) return;
    var cell = row.querySelector('td.name');
    var edge = cell ? 8 : 0;
    (cell || row).style.paddingLeft = (level - 1) * 24 + edge + 'px';
  });
});
